// SPDX-License-Identifier: MIT
// How a fuzz target reports a broken property: as a crash with a message.
#pragma once

// Aborts with `what` when `ok` is false.
void require(bool ok, const char *what);
