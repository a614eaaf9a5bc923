// Names the functions look up in the module namespace when they are called:
// the libraries bound at import, then the module's own functions that other
// functions call. One list makes both the enum and its strings.
#pragma once

#define HIDDEN_LIBRARY_NAMES(X) X(sys) X(matplotlib) X(plt) X(np) X(solve) X(det) X(inv) X(sp) X(rf) X(Beep)
#define HIDDEN_FUNCTION_NAMES(X)                                                                                  \
    X(beep) X(userMsg) X(S2T) X(T2S) X(measure1Port) X(ab2G) X(measure2Port) X(ab2S_SwitchCorrect) X(ab2S)        \
    X(get1PortModel) X(get1PortResponseModel) X(prompt1PortMeasure) X(prompt2PortMeasure) X(prompt1PortSOL)

namespace hidden {

enum class Name : int {
#define HIDDEN_ENUM(n) n,
    HIDDEN_LIBRARY_NAMES(HIDDEN_ENUM) HIDDEN_FUNCTION_NAMES(HIDDEN_ENUM)
#undef HIDDEN_ENUM
    count
};

// Where the module's own functions begin among the names.
#define HIDDEN_ONE(n) +1
inline constexpr int kFirstFunctionName = 0 HIDDEN_LIBRARY_NAMES(HIDDEN_ONE);
#undef HIDDEN_ONE

}  // namespace hidden
