#include "sample_data.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "frame_file.hpp"
#include "output_file.hpp"
#include "text_writer.hpp"

using namespace hedm;

namespace sample {

namespace {

// Per-pixel levels of about 100 to 2000: a detector's fixed dark pattern.
std::vector<pixelvalue> dark_levels(std::mt19937_64& rng) {
  std::vector<pixelvalue> level(kPixelsPerFrame);
  for (std::size_t k = 0; k < kPixelsPerFrame; ++k)
    level[k] = static_cast<pixelvalue>(100 + (k * 7 + (k >> 11) * 13) % 1800 + rng() % 64);
  return level;
}

// The levels with noise of -32 to +31 on every pixel.
void noisy_frame(const std::vector<pixelvalue>& level, std::mt19937_64& rng, std::vector<pixelvalue>* frame) {
  for (std::size_t k = 0; k < kPixelsPerFrame; k += 4) {
    const std::uint64_t r = rng();
    for (std::size_t j = 0; j < 4; ++j)
      (*frame)[k + j] = static_cast<pixelvalue>(level[k + j] + static_cast<int>((r >> (16 * j)) & 63) - 32);
  }
}

// Creates the frame file and writes its header: zeros, as PanelPack writes
// it and image readers expect, or a byte pattern.
Status start_frame_file(OutputFile& out, const std::string& path, bool patternedHeader) {
  std::vector<unsigned char> header(kHeaderBytes);
  if (patternedHeader)
    for (std::size_t i = 0; i < kHeaderBytes; ++i) header[i] = static_cast<unsigned char>(i * 31);
  if (Status s = out.create(path); !s) return s;
  return out.write(header.data(), header.size());
}

}  // namespace

Status write_dark_stack(const std::string& path, int nFrames, unsigned seed, bool patternedHeader) {
  std::mt19937_64 rng(seed);
  const std::vector<pixelvalue> level = dark_levels(rng);
  std::vector<pixelvalue> frame(kPixelsPerFrame);
  OutputFile out;
  if (Status s = start_frame_file(out, path, patternedHeader); !s) return s;
  for (int f = 0; f < nFrames; ++f) {
    noisy_frame(level, rng, &frame);
    for (int h = 0; h < 50; ++h) frame[rng() % kPixelsPerFrame] = 65535;  // hot pixels
    if (Status s = out.write(frame.data(), kFrameBytes); !s) return s;
  }
  return out.commit();
}

Status write_hdf5_dark_stack(const std::string& path, const StackShape& shape, unsigned seed) {
  const std::size_t pixels = shape.rows * shape.columns;
  const bool wide = shape.pixelBytes == 4;
  std::mt19937_64 rng(seed);
  std::vector<std::uint32_t> level(pixels), frame(pixels);
  for (std::size_t k = 0; k < pixels; ++k)
    level[k] = (100 + (k * 7 + (k / shape.columns) * 13) % 1800 + rng() % 64) * (wide ? 40 : 1);
  std::vector<std::uint16_t> narrow(wide ? 0 : pixels);
  Hdf5StackWriter out;
  Status s = out.create(path, "/entry/data/data", shape);
  for (std::uint64_t f = 0; s && f < shape.frames; ++f) {
    std::uint64_t r = 0;
    for (std::size_t k = 0; k < pixels; ++k) {
      if (k % 4 == 0) r = rng();
      frame[k] = level[k] + static_cast<std::uint32_t>((r >> (16 * (k % 4))) & 63) - 32;
    }
    for (int h = 0; h < 50; ++h) frame[rng() % pixels] = wide ? 0xFFFFFFFFu : 65535;  // hot pixels
    if (!wide) std::copy(frame.begin(), frame.end(), narrow.begin());
    s = wide ? out.write_frame(f, frame.data(), 4) : out.write_frame(f, narrow.data(), 2);
  }
  if (s) s = out.commit();
  return s;
}

Status write_scan_stack(const std::string& path, int nFrames, unsigned seed, bool patternedHeader) {
  std::mt19937_64 rng(seed);
  const std::vector<pixelvalue> level = dark_levels(rng);
  std::vector<pixelvalue> frame(kPixelsPerFrame);
  struct Spot {
    int x, y, dx, dy, framesLeft;
    double peak;
  };
  std::vector<Spot> spots;
  OutputFile out;
  if (Status s = start_frame_file(out, path, patternedHeader); !s) return s;
  for (int f = 0; f < nFrames; ++f) {
    noisy_frame(level, rng, &frame);
    // Diffraction spots: each lights up for a few frames of the rotation,
    // drifting a pixel or two per frame.
    for (int s = 0; s < 150; ++s)
      spots.push_back({static_cast<int>(rng() % 2030) + 8, static_cast<int>(rng() % 2030) + 8,
                       static_cast<int>(rng() % 5) - 2, static_cast<int>(rng() % 5) - 2,
                       2 + static_cast<int>(rng() % 3), 500.0 + static_cast<double>(rng() % 40000)});
    for (Spot& sp : spots) {
      for (int dy = -3; dy <= 3; ++dy)
        for (int dx = -3; dx <= 3; ++dx) {
          const std::size_t k = static_cast<std::size_t>(sp.y + dy) * nrPixels + static_cast<std::size_t>(sp.x + dx);
          const double v = frame[k] + sp.peak * std::exp(-0.5 * (dx * dx + dy * dy));
          frame[k] = static_cast<pixelvalue>(std::min(v, 65535.0));
        }
      sp.x = std::clamp(sp.x + sp.dx, 4, 2043);
      sp.y = std::clamp(sp.y + sp.dy, 4, 2043);
      --sp.framesLeft;
    }
    std::erase_if(spots, [](const Spot& sp) { return sp.framesLeft <= 0; });
    if (Status s = out.write(frame.data(), kFrameBytes); !s) return s;
  }
  return out.commit();
}

Status write_float_images(const std::string& stem, int first, int last, const std::string& ext, int clipped) {
  std::vector<float> img(kPixelsPerFrame);
  for (std::int64_t i = first; i <= last; ++i) {  // 64 bits: LAST may be the largest int
    std::mt19937 rng(static_cast<unsigned>(i));
    std::normal_distribution<float> noise(20.0f, 5.0f);
    for (float& v : img) v = noise(rng);
    for (int s = 0; s < 200; ++s) {
      const int cx = static_cast<int>(rng() % 2040) + 4, cy = static_cast<int>(rng() % 2040) + 4;
      const float peak = 500.0f + static_cast<float>(rng() % 5000);
      for (int dy = -4; dy <= 4; ++dy)
        for (int dx = -4; dx <= 4; ++dx)
          img[static_cast<std::size_t>(cy + dy) * nrPixels + static_cast<std::size_t>(cx + dx)] +=
              peak * std::exp(-0.5f * static_cast<float>(dx * dx + dy * dy));
    }
    if (i == clipped)
      for (float& v : img) v = std::min(v, 1500.0f);  // flat-topped spots
    char nr[32];
    std::snprintf(nr, sizeof nr, "%05d.", static_cast<int>(i));
    OutputFile out;
    Status s = out.create(stem + nr + ext);
    if (s) s = out.write(img.data(), img.size() * sizeof(float));
    if (s) s = out.commit();
    if (!s) return s;
  }
  return ok();
}

namespace {
Status write_rows(const std::string& path, long rows, int cols, std::mt19937_64& rng) {
  OutputFile out;
  if (Status s = out.create(path); !s) return s;
  std::uniform_real_distribution<double> angle(-180, 180), unit(0, 1);
  std::vector<double> row(static_cast<std::size_t>(cols));
  for (long r = 0; r < rows; ++r) {
    row[0] = static_cast<double>(r);                 // RowNr
    row[1] = static_cast<double>(rng() % 50);        // NrMatches
    row[2] = unit(rng) * 10;                         // RunTime
    row[3] = angle(rng) * 5, row[4] = angle(rng) * 5;  // X, Y
    row[5] = 0.5;                                    // TriEdgeSize
    row[6] = r % 2 ? 1 : -1;                         // UpDown
    for (int c = 7; c < cols; ++c) row[c] = (c - 7) % 4 == 3 ? unit(rng) : angle(rng);
    if (Status s = out.write(row.data(), row.size() * sizeof(double)); !s) return s;
  }
  return out.commit();
}
}  // namespace

Status write_result_files(const std::string& path, long rows, int nSaves) {
  std::mt19937_64 rng(42);
  if (Status s = write_rows(path, rows, 11, rng); !s) return s;
  return write_rows(path + ".AllMatches", rows, 4 * nSaves + 7, rng);
}

Status write_grain_list(const std::string& path, long lines) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> g;
  OutputFile file;
  if (Status s = file.create(path); !s) return s;
  TextWriter out(file);
  out.put("%GrainID O11 O12 O13 O21 O22 O23 O31 O32 O33 X Y Z a b c alpha beta gamma DiffPos "
          "DiffOme DiffAngle Radius\n");
  char line[512];
  for (long i = 1; i <= lines; ++i) {
    double w = g(rng), x = g(rng), y = g(rng), z = g(rng);
    const double n = std::sqrt(w * w + x * x + y * y + z * z);
    w /= n, x /= n, y /= n, z /= n;
    std::snprintf(line, sizeof line,
                  "%ld %.9f %.9f %.9f %.9f %.9f %.9f %.9f %.9f %.9f %.3f %.3f %.3f 4.0800 4.0800 "
                  "4.0800 90.0000 90.0000 90.0000 %.4f %.4f %.4f %.2f\n",
                  i, 1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y),
                  2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
                  2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y), g(rng) * 100,
                  g(rng) * 100, g(rng) * 100, std::fabs(g(rng)), std::fabs(g(rng)),
                  std::fabs(g(rng)), 20 + std::fabs(g(rng)) * 10);
    out.put(line);
  }
  if (Status s = out.flush(); !s) return s;
  return file.commit();
}

}  // namespace sample
