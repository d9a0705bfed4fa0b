# The worked example: six triangles, and the grid.txt they make.
printf 'GridSize 2\nRsample 1\nDataDirectory .\n' >params.txt
BuildTriMesh params.txt
cat grid.txt
