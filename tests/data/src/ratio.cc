// A C++ unit among the C ones: its line program names a ".cc" file.
#include "common.h"

namespace {

template <typename T>
T ratio_of(T part, T whole)
{
    if (whole == 0)
        return 0;
    return clamp(part * 1000 / whole, 0, 1000);
}

}  // namespace

extern "C" s32 ratio_permille(s32 part, s32 whole)
{
    return ratio_of<s32>(part, whole);
}
