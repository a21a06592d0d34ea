// The editor's program version, written on the VER line of every exported file.
#pragma once

namespace exel {

constexpr int kProgramMajor = 1;
constexpr int kProgramMinor = 0;

} // namespace exel
