// Docstrings of the plots functions.
#pragma once

namespace hidden::plots {

inline constexpr const char plotCompareDb_doc[] =
    "\n"
    "    Plots comparison of S-parameter objects given in the list S_array.\n"
    "    Titles must be given for each plot in the list title_array uses scikit-rf\n"
    "    plotting and matplotlib.\n"
    "    input:\n"
    "        freq_vec: [num_pts] frequency vector in MHz\n"
    "        S_array: list of S-parameter 'stacks' size [num_pts,2,2] corrected S-parameters\n"
    "        title_array: list of titles for the S-parameter plots\n"
    "    ";

inline constexpr const char plotCompareDeg_doc[] =
    "\n"
    "    Plots comparison of S-parmeter objects given in the list S_array.\n"
    "    Titles must be given for each plot in the list title_array uses scikit-rf\n"
    "    plotting and matplotlib.\n"
    "    input:\n"
    "        freq_vec: [num_pts] frequency vector in MHz\n"
    "        S_array: list of S-parameter 'stacks' size [num_pts,2,2] corrected S-parameters\n"
    "        title_array: list of titles for the S-parameter plots\n"
    "    ";

inline constexpr const char plotCompareDbDeg_doc[] =
    "\n"
    "    Plots comparison of S-parmeter objects given in the list S_array.\n"
    "    Titles must be given for each plot in the list title_array uses scikit-rf\n"
    "    plotting and matplotlib.\n"
    "    input:\n"
    "        freq_vec: [num_pts] frequency vector in MHz\n"
    "        S_array: list of S-parameter 'stacks' size [num_pts,2,2] corrected S-parameters\n"
    "        title_array: list of titles for the S-parameter plots\n"
    "    ";

}  // namespace hidden::plots
