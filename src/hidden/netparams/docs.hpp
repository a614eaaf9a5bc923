// Docstrings of the netparams functions.
#pragma once

namespace hidden::netparams {

inline constexpr const char S2T_doc[] =
    "\n"
    "    input:\n"
    "        S: [num_pts,2,2] S-parameter matrix\n"
    "    output:\n"
    "        T: [num_pts,2,2] T-parameter matrix\n"
    "    ";

inline constexpr const char T2S_doc[] =
    "\n"
    "    input:\n"
    "        T: [num_pts,2,2] T-parameter matrix\n"
    "    output:\n"
    "        S: [num_pts,2,2] S-parameter matrix\n"
    "    ";

inline constexpr const char getIdealSparams_doc[] =
    "\n"
    "    Returns S-Parameters of the 'Ideal' Open Short Load and Thru Components\n"
    "    input:\n"
    "        num_pts: (int) number of points in the frequency vector\n"
    "    outputs:\n"
    "        G_ideal: [num_pts, 3] matrix of 'canonical' Open,Short,Load reflection\n"
    "            coefficients (1,-1,0)\n"
    "        T_ideal: [numpts, 2, 2] stack of S matricies of an ideal thru\n"
    "            ie. S = [0 1\n"
    "                     1 0]\n"
    "    ";

inline constexpr const char ab2G_doc[] =
    "\n"
    "    ab2G   Returns reflection coefficient G (gamma) from a and b waves\n"
    "        G = ab2G(rec,ports)\n"
    "        Inputs:\n"
    "            rec: dict{int:[num_pts]}\n"
    "                reciever recording returned by measure1Port()\n"
    "            ports: map that associates a port number with each VNA Tx/Rx\n"
    "                possible keys: ['Tx1','Tx2','Rx1A','Rx1B','Rx2A','Rx2B']\n"
    "                possible values: [1, 2, 3, 4, 5, 6]\n"
    "        Outputs:\n"
    "            G = [num_pts] reflection coefficient (gamma) of the transmitting port\n"
    "    ";

inline constexpr const char ab2S_doc[] =
    "\n"
    "    Converts ab wave measurements from measure2Port() to S parameters.\n"
    "    input:\n"
    "        rec_tx1,rec_tx2: {1:[num_pts] , 2:[num_pts], ..., 6:[num_pts]}\n"
    "            recording dictionaries returned by measure2Port()\n"
    "    output:\n"
    "        S: [num_pts,2,2] stack of S parameter matricies in frequency\n"
    "    ";

inline constexpr const char ab2S_SwitchCorrect_doc[] =
    "\n"
    "    Converts ab wave measurements from measure2Port() to S parameters with\n"
    "    switch correction\n"
    "    input:\n"
    "        rec_tx1,rec_tx2: {1:[num_pts] , 2:[num_pts], ..., 6:[num_pts]}\n"
    "            recording dictionaries returned by measure2Port() with 'Tx1'\n"
    "            and 'Tx2' transmitting\n"
    "        ports: mapping dictionary,\n"
    "            possible keys: ['Tx1','Tx2','Rx1A','Rx1B','Rx2A','Rx2B']\n"
    "            possible values: [1, 2, 3, 4, 5, 6]\n"
    "    output:\n"
    "        S: [num_pts,2,2] stack of S parameter matricies in frequency\n"
    "    ";

}  // namespace hidden::netparams
