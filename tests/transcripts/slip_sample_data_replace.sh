# hedm-sample-data never replaces a file: not a real dark stack named
# directly, nor one behind a symbolic link, nor a result file's
# .AllMatches; /dev/null replaces nothing and is written.  FramePreview
# refuses an output named for an image format it does not write (.PNG in
# capitals too), instead of writing view.jpg.pgm and view.jpg_view.pgm.
source "$(dirname "${BASH_SOURCE[0]}")/slips.bash"
hedm-sample-data stack dark_stack.ge3 2 7 >/dev/null
ln -s dark_stack.ge3 link_stack.ge3
StackCollapse dark_stack.ge3 dark_median.ge3 >/dev/null
echo "rows of an earlier run" >mic.bin.AllMatches
files
slip hedm-sample-data stack link_stack.ge3 3
slip hedm-sample-data stack dark_stack.ge3 3
slip hedm-sample-data results mic.bin 10
slip hedm-sample-data grains /dev/null 2
slip FramePreview dark_median.ge3 view.jpg
slip FramePreview dark_median.ge3 view.tif --log
slip FramePreview dark_median.ge3 out/view.PNG
files
