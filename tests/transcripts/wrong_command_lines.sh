# What every program says to a wrong number of arguments, and its status;
# no file is made.
for p in StackCollapse PanelPack ClipCount GrainQuats BuildTriMesh SolutionDump; do
  $p
  echo "$p: status $?"
done
StackCollapse a.ge3
echo "StackCollapse a.ge3: status $?"
StackCollapse a.ge3 b.ge3 c.ge3
echo "StackCollapse a.ge3 b.ge3 c.ge3: status $?"
GrainQuats grains.txt
echo "GrainQuats grains.txt: status $?"
GrainQuats grains.txt seeds.csv extra
echo "GrainQuats grains.txt seeds.csv extra: status $?"
ls
