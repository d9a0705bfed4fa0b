// BuildTriMesh: reads the triangle edge length, the sample radius and an
// output directory from a parameter file, builds the triangle grid that
// covers a hexagon around the sample and writes it to <directory>/grid.txt.

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "io.hpp"
#include "param_file.hpp"
#include "trimesh.hpp"
#include "util.hpp"

using namespace hedm;

namespace {

int fail(const std::string& message) {
  say(message);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::clock_t start = std::clock();
  if (argc < 2) return fail("Usage: BuildTriMesh <parameter file>. No parameter file given, exiting.");
  const std::string ParamFN = argv[1];
  double GridSize = 0, Rsample = 0;
  std::string direct;
  ParamKey keys[] = {{"GridSize ", &GridSize}, {"Rsample ", &Rsample}, {"DataDirectory ", &direct}};
  std::string err;
  if (!read_param_file(ParamFN, keys, &err)) return fail(err + " Exiting.");
  if (std::string missing = missing_keys(keys); !missing.empty())
    return fail("The parameter file " + ParamFN + " gives no value for: " + missing + ". Exiting.");

  const GridDimensions dims = grid_dimensions(GridSize, Rsample);
  if (!grid_size_ok(GridSize, Rsample, dims.NrHex, &err)) return fail(err + " Exiting.");
  const std::int32_t NrGridElements = grid_point_count(dims.NrHex);
  double** XYGrid = allocMatrix(NrGridElements, 5);
  if (!XYGrid)
    return fail(out_of_memory_message(static_cast<std::size_t>(NrGridElements) * 6 * sizeof(double)));
  auto release = [NrGridElements](double** m) { FreeMemMatrix(m, NrGridElements); };
  std::unique_ptr<double*, decltype(release)> grid(XYGrid, release);  // freed on every path
  TriMesh(GridSize, Rsample, dims.NrHex, dims.HtTriangle, dims.ALast, XYGrid);
  std::printf("Number of grid points: %d.\n", NrGridElements);
  std::fflush(stdout);

  const std::string fn = direct + "/grid.txt";
  OutputFile file;
  if (!file.create(fn, &err)) {
    std::printf("Cannot open file, %s\n", fn.c_str());
    return 1;
  }
  TextWriter out(file);
  out.integer(NrGridElements);
  out.put('\n');
  for (std::int32_t r = 0; r < NrGridElements; ++r) {
    for (int c = 0; c < 5; ++c) {
      out.fixed6(XYGrid[r][c]);
      out.put(c < 4 ? ' ' : '\n');
    }
  }
  if (!out.flush(&err) || !file.commit(&err)) return fail(err + " Exiting.");
  grid.reset();

  const std::clock_t end = std::clock();
  std::printf("Time elapsed in making TriMesh: %f [s]\n", processor_seconds(start, end));
  return 0;
}
