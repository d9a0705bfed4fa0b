// Fuzz target: parameter files of any bytes, read in 999-character pieces as
// the reader does, against the keys of both programs that read them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "param_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int PhaseNr = 0, NumPhases = 0, nSaves = 1;
  double GlobalPosition = 0, GridSize = 0, Rsample = 0;
  std::string in, out, dir;
  hedm::ParamKey keys[] = {{"PhaseNr ", &PhaseNr},         {"NumPhases ", &NumPhases},
                           {"GlobalPosition ", &GlobalPosition}, {"MicFileBinary ", &in},
                           {"MicFileText ", &out},         {"SaveNSolutions ", &nSaves},
                           {"GridSize ", &GridSize},       {"Rsample ", &Rsample},
                           {"DataDirectory ", &dir}};
  // Pieces as fgets gives them: up to and including a newline, at most 999 bytes.
  std::size_t at = 0;
  while (at < size) {
    char aline[1000];
    std::size_t n = 0;
    while (at < size && n < 999) {
      aline[n++] = static_cast<char>(data[at]);
      if (data[at++] == '\n') break;
    }
    aline[n] = '\0';
    hedm::apply_param_line(aline, keys);
  }
  // A word value is one run of non-white-space characters.
  for (const std::string* w : {&in, &out, &dir})
    if (w->size() > 999 || w->find_first_of(" \t\n\r\v\f") != std::string::npos) __builtin_trap();
  return 0;
}
