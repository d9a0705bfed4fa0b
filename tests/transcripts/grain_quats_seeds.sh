# Grain lines to seed orientations: a comment, a blank line, a short line
# (reported by its line number) and two grains.
printf '%%GrainID O11 ...\n7 0.36 0.48 -0.8 -0.8 0.6 0 0.48 0.64 0.6 a b c 4.08 4.08 4.08 90 90 90 w x y z\n\n9 1 0 0\n10 1 0 0 0 1 0 0 0 1 a b c 3 3 3 90 90 120\n' >grains.txt
GrainQuats grains.txt seeds.csv
cat seeds.csv
