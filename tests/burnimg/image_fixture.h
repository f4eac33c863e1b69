// SPDX-License-Identifier: MIT
// Image bytes shared by the burnimg tests.
#pragma once

#include <cstddef>
#include <string>

// An image of size bytes whose pattern never repeats at a chunk boundary, so
// a chunk written in the wrong place or twice shows in the target.
inline std::string make_image(size_t size)
{
    std::string img(size, '\0');
    for (size_t i = 0; i < size; i++)
        img[i] = static_cast<char>((i * 31 + (i >> 8) * 7 + (i >> 16)) & 0x7F);
    return img;
}

// What a target holds after a run: the first `copied` bytes of the image at
// its start, then `filled` bytes of 0xFF, then whatever the target held
// beyond them before.
inline std::string expected_target(const std::string &image, const std::string &before,
                                   size_t copied, size_t filled)
{
    std::string t = image.substr(0, copied) + std::string(filled, '\xff');
    if (before.size() > t.size())
        t += before.substr(t.size());
    return t;
}

// "" when the bytes are equal, otherwise where they first differ: a failing
// test reports that instead of printing two whole images.
inline std::string difference(const std::string &got, const std::string &want)
{
    if (got == want)
        return "";
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i])
        i++;
    return "sizes " + std::to_string(got.size()) + " and " + std::to_string(want.size()) +
           ", first difference at offset " + std::to_string(i);
}
