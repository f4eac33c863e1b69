// SPDX-License-Identifier: MIT
// Included ahead of every C++ source of the uClibc-ng build.
//
// Debian's libstdc++ headers were configured against glibc and declare
// quick_exit, at_quick_exit and tmpnam in namespace std through <cstdlib>
// and <cstdio>; uClibc-ng has none of them, so the using-declarations would
// not compile. The programs use none of the three.
#pragma once
#include <bits/c++config.h>
#undef _GLIBCXX_HAVE_QUICK_EXIT
#undef _GLIBCXX_HAVE_AT_QUICK_EXIT
#undef _GLIBCXX_USE_TMPNAM
