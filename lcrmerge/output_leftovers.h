// SPDX-License-Identifier: MIT
// The files that runs of lcrmerge cut off before their rename leave in the
// output's folder: how a replacement is named, and the sweep that removes
// them.
#pragma once

// A replacement is named TEMP_PREFIX, the process id, '-' and the attempt
// until the rename; the id tells a later run whether its writer still runs.
inline constexpr char TEMP_PREFIX[] = ".lcrmerge-";

// Removes the leftovers of cut-off runs from the folder open as `dir`. A
// run that still goes on keeps its file. Nothing depends on it: a folder
// that cannot be listed stays as it is.
void lcr_sweep_leftovers(int dir);
