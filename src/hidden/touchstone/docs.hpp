// Docstrings of the touchstone functions.
#pragma once

namespace hidden::touchstone {

inline constexpr const char readSnP_doc[] =
    "\n"
    "    Reads a touchstone file, returning a frequency vector and S-parameter matrix.\n"
    "    If freq_desired is provided, S-parameter data is interpolated and then returned.\n"
    "    Units of freq_desired must be in Hz. Python uses the scikit-rf module\n"
    "    for the reading in raw touchstone data.\n"
    "    input:\n"
    "        path: [string] path/to/filename of touchstone file (*.sNp)\n"
    "        freq_desired (optional): [num_pts] frequency vector (in Hz)\n"
    "            for interpolation\n"
    "        kind (optional): (str) Specifies the kind of interpolation\n"
    "            ('MA', 'DB', or 'RI') Function interpolated to frequency desired\n"
    "            using linear interpolation on the magnitude and phase ('MP'),\n"
    "            magnitude in dB and phase ('DB'), or real and imaginary parts\n"
    "            ('RI'). Default is 'DB'\n"
    "    output:\n"
    "        S: [num_pts,1] or [num_pts,n,n] S-Parameter matrix\n"
    "        f: (optional) [num_pts] frequency vector (in Hz) of file.\n"
    "            Only returned if no freq_desired is given.\n"
    "    ";

inline constexpr const char writeSnP_doc[] =
    "\n"
    "    writes S-parameter matrix to touchstone (*.SnP) file\n"
    "    input:\n"
    "        freq_vec: [num_pts] frequency vector of measurements\n"
    "        S_data: [num_pts,2,2] S-parameter matrix to save\n"
    "        path: [string] path/to/filename\n"
    "        freq_unit: [string] units of the frequency vector (default: Hz)\n"
    "    ";

}  // namespace hidden::touchstone
