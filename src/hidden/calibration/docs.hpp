// Docstrings of the calibration functions.
#pragma once

namespace hidden::calibration {

inline constexpr const char get1PortResponseModel_doc[] =
    "\n"
    "    returns a model for the reflection channel: Gm = H(w)G\n"
    "    input:\n"
    "        G: [num_pts] actual, listed, or ideal reflection coefficient\n"
    "        Gm: [num_pts] measured reflection coefficient\n"
    "    output:\n"
    "        H: [num_pts] reflection channel\n"
    "    ";

inline constexpr const char get2PortResponseModel_doc[] =
    "\n"
    "    returns a model for a 2x2 Frequency Response model (channel):\n"
    "    Sijm = Hij(w)Sij\n"
    "    input:\n"
    "        G1,G2: [num_pts] actual, listed, or ideal reflection coefficient\n"
    "            at port 1 and port 2\n"
    "        Gm1,Gm2: [num_pts] measured reflection coefficient at port 1 and port 2\n"
    "        T,Tm: [num_pts,2,2] actual, listed, or ideal thru measurement (T)\n"
    "            and measured thru (Tm)\n"
    "    output:\n"
    "        H: [num_pts,2,2] 2x2 Frequency Response model (channel)\n"
    "    ";

inline constexpr const char correctResponse_doc[] =
    "\n"
    "    Computes DUT S-parameters by inverting the channel modeled by H\n"
    "    input:\n"
    "        Sm: [num_pts,2,2] measured S-parameters\n"
    "        H: [num_pts,2,2] Frequency Response channel model\n"
    "    output:\n"
    "        S: [num_pts,2,2] DUT S-parameters\n"
    "    ";

inline constexpr const char get1PortModel_doc[] =
    "\n"
    "    returns 3 error terms from 1 port calibration\n"
    "    parameters are ideal and measured reflection coefficients for 3 components\n"
    "    G and Gm must have standards listed in the same order\n"
    "    inputs:\n"
    "        G: [num_pts,3] actual component reflection coefficients\n"
    "        Gm: [num_pts,3] measured component reflection coeffcients\n"
    "    outputs:\n"
    "    x: [num_pts,3] solution to the matrix equation Ax=b,\n"
    "        where A and b are defined by the system of equations for the 1 port model,\n"
    "        resulting in x containing [e_00, e_11, delta_e] (in that order)\n"
    "    ";

inline constexpr const char correct1Port_doc[] =
    "\n"
    "    corrects a reflection coefficient measurement using the one-port VEC terms\n"
    "    returned from get1PortModel()\n"
    "    input:\n"
    "        Gm: [num_pts] measured reflection coefficient\n"
    "        err_terms: [num_pts,3] matrix of 1-port error terms obtained from\n"
    "            get1PortModel()\n"
    "    output:\n"
    "        G: corrected reflection coefficient\n"
    "    ";

inline constexpr const char get8TermModel_doc[] =
    "\n"
    "    Constructs 8-term model based on measured and actual SOLT S-parmeters.\n"
    "    input:\n"
    "        G1,G2: [num_pts,3] actual (G) and measured (Gm) reflection coefficients\n"
    "            of standards used on port 1 and 2 respectively. Standards used in\n"
    "            G,Gm must be in same order (ie. G = [O,S,L] Gm = [Om,Sm,Lm])\n"
    "        T,Tm: [num_pts,2,2] actual (T) and measured (Tm) relfection coefficients\n"
    "            of thru standard\n"
    "    output:\n"
    "        A,B: [num_pts,2,2] normalized error adapter [-delta_e e00\n"
    "                                                        e11     1 ]\n"
    "            at ports 1 and 2 respectively\n"
    "        q: [num_pts,1] thru error term e10e32\n"
    "    ";

inline constexpr const char get8TermModelUThru_doc[] =
    "\n"
    "    Constructs 8-term model based on measured SOLT and actual SOL S-parmeters.\n"
    "    Uses the Unknown Thru Method.\n"
    "    input:\n"
    "        G1,G2: [num_pts,3] actual (G) and measured (Gm) reflection coefficients\n"
    "            of standards used on port 1 and 2 respectively. Standards used in\n"
    "            G,Gm must be in same order (ie. G = [O,S,L] Gm = [Om,Sm,Lm])\n"
    "        Tm: [num_pts,2,2] measured S-parameters of the unknown-thru\n"
    "        freq_vec: [num_pts] frequency vector (in [Hz]!) of the measurements\n"
    "        phys_length: (optional) approximate length of the\n"
    "            unknown thru component in meters for velocity factor of 0.695\n"
    "            Default is 5cm.\n"
    "    output:\n"
    "        A,B: [num_pts,2,2] normalized error adapter [-delta_e e00\n"
    "                                                        e11     1 ]\n"
    "            at ports 1 and 2 respectively\n"
    "        q: [num_pts,1] thru error term e10e32\n"
    "    ";

inline constexpr const char correct8Term_doc[] =
    "\n"
    "    returns DUT S parameters from 8-term error model\n"
    "    input:\n"
    "        Sm: [num_pts,2,2] raw measured DUT S-parmeters\n"
    "        A,B,q: 8-term mdoel error terms from get8TermModel()\n"
    "    output:\n"
    "        S: [num_pts,2,2] corrected DUT S-params\n"
    "    ";

inline constexpr const char get12TermModel_doc[] =
    "\n"
    "    Constructs the 12-Term error model (with optional isolation measurement),\n"
    "    using measured SOLT data and listed SOLT data.\n"
    "    input:\n"
    "        G1,G2: [num_pts,3] listed (G) and measured (Gm) reflection coefficients\n"
    "            of standards used on port 1 and 2 respectively. Standards used in\n"
    "            G,Gm must be in same order (ie. G = [O,S,L] Gm = [Om,Sm,Lm])\n"
    "        T,Tm: [num_pts,2,2] listed (T) and measured (Tm) relfection coefficients\n"
    "            of thru standard\n"
    "        isolation (optional): [num_pts,2,2] measured S-parameters of an isolation measurement.\n"
    "            ie. matched loads on each port\n"
    "    output:\n"
    "        fwd_terms: [num_pts,6] [e00 ,e11 ,e10e01  ,e10e32  ,e22 ,e30]\n"
    "        rev_terms: [num_pts,6] [ep33,ep22,ep23ep32,ep23ep01,ep11,ep03]\n"
    "    ";

inline constexpr const char correct12Term_doc[] =
    "\n"
    "    Applies 12-Term Model error correction with terms obtained from get12TermModel()\n"
    "    input:\n"
    "        Sm: [num_pts,2,2] raw S-parameter measurements\n"
    "        fwd_terms: [num_pts,6] [e00 ,e11 ,e10e01  ,e10e32  ,e22 ,e30]\n"
    "        rev_terms: [num_pts,6] [ep33,ep22,ep23ep32,ep23ep01,ep11,ep03]\n"
    "    output:\n"
    "        S: [num_pts,2,2] 12-term corrected S-parmeters\n"
    "    ";

inline constexpr const char deEmbed_doc[] =
    "\n"
    "    deEmbed    De-Embeds an adapter or multiple adapters from a 2-port\n"
    "               measurement. All S-Parameter inputs must be aligned. Port 2 of\n"
    "               one network feeds port 1 of the subsequent network (see diag).\n"
    "               This fuction supports de-embedding of adapters on either side\n"
    "               of the DUT. If only a single adapter is used, set unused\n"
    "               adapter to [] or np.tile([[0,1],[1,0]],(num_pts,1,1))\n"
    "                     _______________________________________\n"
    "                    |    _______     _______     _______    |\n"
    "         A_DUT_B  o-|---|P1   P2|---|P1   P2|---|P1   P2|---|-o  A_DUT_B\n"
    "          Port1     |   |  S_A  |   | S_DUT |   |  S_B  |   |    Port2\n"
    "                  o-|---|_______|---|_______|---|_______|---|-o\n"
    "                    |_______________________________________|\n"
    "        inputs:\n"
    "            S_A_DUT_B: [num_pts,2,2] S-Parameter description of the combined\n"
    "                       network Adapter A - DUT - Adapter B\n"
    "            S_A      : [num_pts,2,2] S-Parameter description of adapter on\n"
    "                       the left (Port 1) side of the DUT\n"
    "            S_B      : [num_pts,2,2] S-Parameter description of adapter on\n"
    "                       the right (Port 2) side of the DUT\n"
    "        outputs:\n"
    "            S_DUT: [num_pts,2,2] S-parameter description of the DUT\n"
    "    ";

inline constexpr const char getPortExtModel_doc[] =
    "\n"
    "    Returns error term for the port-extension model. Port-extension is\n"
    "    measured with an open or short termination at the desired measurement plane.\n"
    "    input:\n"
    "        gamma,gamma_listed: [num_pts] measured and listed reflection\n"
    "            coefficient at the extended port\n"
    "    output:\n"
    "        e10e01: [num_pts] Transmission tracking coefficients of the error model\n"
    "    ";

inline constexpr const char correctPortExt_doc[] =
    "\n"
    "    Performs correction of S-parameter data on one port based on the\n"
    "    the port-extension model. Supports 2-Port networks only.\n"
    "    input:\n"
    "        S_ext_dut: [num_pts,2,2] uncorrected S-parameter data\n"
    "        e10e01: [num_pts] Transmission tracking coefficients of the error model\n"
    "        port_num: (1 or 2) port at which the adapter is connected\n"
    "    output:\n"
    "        S_dut: [num_pts] Corrected S-Parameters\n"
    "\n"
    "                e10       __________\n"
    "    Port    o---->----o--|          |--o\n"
    " (port_num)     e01      |   DUT    |\n"
    "            o----<----o--|__________|--o\n"
    "    ";

}  // namespace hidden::calibration
