# A reconstruction's result files of three rows, two solutions each, to
# their text tables.
hedm-sample-data results mic.bin 3 2
printf 'PhaseNr 2\nNumPhases 3\nGlobalPosition 1.5\nMicFileBinary mic.bin\nMicFileText mic.txt\nSaveNSolutions 2\n' >params.txt
SolutionDump params.txt
cat mic.txt mic.txt.AllMatches
