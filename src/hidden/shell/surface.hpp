// What orvane_ex.hidden shows Python, written down once: its docstring, the
// names of its namespace, and for each function its definition line, the
// line of its generator expression, its docstring and the namespace names its
// numpy path reaches; then the lines of the import sequence. Scripts depend
// on every one of these, down to the line numbers in tracebacks, so none may
// change; every other file takes them from here. Header-only, so that
// orvane_ex._native can show the same table to the tests
// (tests/test_hidden_shell_surface.py).
#pragma once

#include <cstddef>
#include <initializer_list>

#include "calibration/docs.hpp"
#include "measure/docs.hpp"
#include "netparams/docs.hpp"
#include "plots/docs.hpp"
#include "touchstone/docs.hpp"

// The libraries the import sequence binds, in its order.
#define HIDDEN_LIBRARY_NAMES(X) X(sys) X(matplotlib) X(plt) X(np) X(solve) X(det) X(inv) X(sp) X(rf) X(Beep)

// The functions, in order of definition line:
//   F(name, definition line, generator expression's line or 0, docstring, (names reached))
// The names reached are those the numpy path looks up in the namespace, its
// calls to other module functions included; the native path stands in for
// them only while each is still the genuine object. Every function with a
// native path lists np, also where its numpy path uses only array operators:
// rebinding np is how a caller forces the numpy path. Functions without a
// native path list none.
#define HIDDEN_SURFACE(F)                                                                                      \
    F(beep, 27, 0, measure::beep_doc, ())                                                                        \
    F(userMsg, 31, 0, measure::userMsg_doc, ())                                                                  \
    F(readSnP, 40, 0, touchstone::readSnP_doc, ())                                                               \
    F(writeSnP, 99, 0, touchstone::writeSnP_doc, ())                                                             \
    F(S2T, 116, 0, netparams::S2T_doc, (np, det))                                                                \
    F(T2S, 126, 0, netparams::T2S_doc, (np, det))                                                                \
    F(measure1Port, 136, 0, measure::measure1Port_doc, ())                                                       \
    F(ab2G, 152, 0, netparams::ab2G_doc, (np))                                                                   \
    F(measure2Port, 174, 0, measure::measure2Port_doc, ())                                                       \
    F(ab2S_SwitchCorrect, 200, 214, netparams::ab2S_SwitchCorrect_doc, (np))                                     \
    F(ab2S, 227, 0, netparams::ab2S_doc, (np))                                                                   \
    F(getIdealSparams, 243, 0, netparams::getIdealSparams_doc, (np))                                             \
    F(get1PortResponseModel, 266, 0, calibration::get1PortResponseModel_doc, (np))                               \
    F(get2PortResponseModel, 277, 0, calibration::get2PortResponseModel_doc, (np, get1PortResponseModel))        \
    F(correctResponse, 297, 0, calibration::correctResponse_doc, (np))                                           \
    F(prompt1PortMeasure, 308, 0, measure::prompt1PortMeasure_doc, ())                                           \
    F(prompt2PortMeasure, 331, 0, measure::prompt2PortMeasure_doc, ())                                           \
    F(get1PortModel, 354, 0, calibration::get1PortModel_doc, (np, solve))                                        \
    F(correct1Port, 373, 0, calibration::correct1Port_doc, (np))                                                 \
    F(prompt1PortSOL, 387, 0, measure::prompt1PortSOL_doc, ())                                                   \
    F(prompt2PortSOLT, 409, 0, measure::prompt2PortSOLT_doc, ())                                                 \
    F(get8TermModel, 434, 0, calibration::get8TermModel_doc, (np, det, inv, solve, S2T, get1PortModel))          \
    F(get8TermModelUThru, 463, 0, calibration::get8TermModelUThru_doc,                                           \
      (np, det, inv, solve, sp, S2T, get1PortModel))                                                             \
    F(correct8Term, 499, 0, calibration::correct8Term_doc, (np, inv, det, S2T, T2S))                             \
    F(get12TermModel, 515, 530, calibration::get12TermModel_doc, (np, det, solve, get1PortModel))                \
    F(correct12Term, 555, 569, calibration::correct12Term_doc, (np))                                             \
    F(deEmbed, 578, 0, calibration::deEmbed_doc, (np, inv, det, S2T, T2S))                                       \
    F(getPortExtModel, 614, 0, calibration::getPortExtModel_doc, (np))                                           \
    F(correctPortExt, 625, 0, calibration::correctPortExt_doc, (np))                                             \
    F(plotCompareDb, 655, 0, plots::plotCompareDb_doc, ())                                                       \
    F(plotCompareDeg, 675, 0, plots::plotCompareDeg_doc, ())                                                     \
    F(plotCompareDbDeg, 695, 0, plots::plotCompareDbDeg_doc, ())

namespace hidden {

// Every name the functions look up in the namespace: the libraries, then the
// module's own functions.
enum class Name : int {
#define HIDDEN_LIBRARY_ENUM(n) n,
#define HIDDEN_FUNCTION_ENUM(n, ...) n,
    HIDDEN_LIBRARY_NAMES(HIDDEN_LIBRARY_ENUM) HIDDEN_SURFACE(HIDDEN_FUNCTION_ENUM)
#undef HIDDEN_LIBRARY_ENUM
#undef HIDDEN_FUNCTION_ENUM
    count
};

namespace surface {

inline constexpr char kModuleDoc[] = "\nhidden.py\nhidden-source helper functions for QLM-417\n";

// Where the module's own functions begin among the names.
#define HIDDEN_ONE(n, ...) +1
inline constexpr int kFirstFunction = 0 HIDDEN_LIBRARY_NAMES(HIDDEN_ONE);
inline constexpr int kFunctionCount = 0 HIDDEN_SURFACE(HIDDEN_ONE);
#undef HIDDEN_ONE

inline constexpr const char* kNames[] = {
#define HIDDEN_LIBRARY_STRING(n) #n,
#define HIDDEN_FUNCTION_STRING(n, ...) #n,
    HIDDEN_LIBRARY_NAMES(HIDDEN_LIBRARY_STRING) HIDDEN_SURFACE(HIDDEN_FUNCTION_STRING)
#undef HIDDEN_LIBRARY_STRING
#undef HIDDEN_FUNCTION_STRING
};
static_assert(sizeof kNames / sizeof kNames[0] == size_t(Name::count));

constexpr const char* name_of(Name n) { return kNames[int(n)]; }

// The names one function reaches.
class Reaches {
public:
    constexpr Reaches(std::initializer_list<Name> names) {
        for (Name n : names) names_[count_++] = n;
    }
    constexpr const Name* begin() const { return names_; }
    constexpr const Name* end() const { return names_ + count_; }

private:
    Name names_[int(Name::count)] = {};
    int count_ = 0;
};

struct Function {
    const char* name;
    int line;          // definition line reported in tracebacks
    int genexpr_line;  // line of its generator expression; 0 without one
    const char* doc;
    Reaches reaches;
};

inline constexpr Function kFunctions[] = {
#define HIDDEN_UNPARENTHESIZED(...) __VA_ARGS__
#define HIDDEN_FUNCTION_ROW(n, line, genexpr, doc, reaches) \
    {#n, line, genexpr, doc, [] { using enum Name; return Reaches{HIDDEN_UNPARENTHESIZED reaches}; }()},
    HIDDEN_SURFACE(HIDDEN_FUNCTION_ROW)
#undef HIDDEN_FUNCTION_ROW
#undef HIDDEN_UNPARENTHESIZED
};

// The row of a function's name.
constexpr const Function& function(Name n) { return kFunctions[int(n) - kFirstFunction]; }

// beep is defined at the first of these lines on Windows, with its docstring,
// and at its row's line elsewhere, without one.
inline constexpr int kBeepLineOnWindows = 23;

// The lines of the import sequence's statements, reported in the "init
// orvane_ex.hidden" traceback entry when one of them fails.
struct ImportLines {
    int start;              // before the first statement
    int sys;                // import sys
    int matplotlib;         // import matplotlib, when nothing loaded it yet
    int use_tkagg;          // matplotlib.use('TkAgg')
    int matplotlib_loaded;  // import matplotlib, when it was loaded already
    int pyplot;             // import matplotlib.pyplot as plt
    int numpy;              // import numpy as np
    int linalg;             // from numpy.linalg import solve, det, inv
    int scipy;              // import scipy as sp
    int skrf;               // import skrf as rf
    int winsound;           // from winsound import Beep (Windows)
};
inline constexpr ImportLines kImportLines{.start = 1, .sys = 6, .matplotlib = 9, .use_tkagg = 10,
                                          .matplotlib_loaded = 13, .pyplot = 14, .numpy = 15, .linalg = 16,
                                          .scipy = 17, .skrf = 18, .winsound = 22};

}  // namespace surface
}  // namespace hidden
