// Docstrings of the measure functions.
#pragma once

namespace hidden::measure {

inline constexpr const char beep_doc[] =
    "Produce a short notification beep";

inline constexpr const char userMsg_doc[] =
    " Prints a message to the console and waits for user input.\n"
    "        program continues on hitting Enter. Progam exits on 'q' input ";

inline constexpr const char measure1Port_doc[] =
    "\n"
    "    makes a,b wave measurement at specified port\n"
    "    input:\n"
    "        orvane: object (the board),\n"
    "        settings: orvane settings object,\n"
    "        tx: port number of transmitter (ex. ports['Tx1'])\n"
    "    output:\n"
    "        rec: {1:[num_pts] , 2:[num_pts], ..., 6:[num_pts]}\n"
    "            recording dictionary with ports[tx] as transmitter\n"
    "    ";

inline constexpr const char measure2Port_doc[] =
    "\n"
    "    makes 2 port measurement\n"
    "    input:\n"
    "        orvane: object (the board),\n"
    "        settings: orvane settings object,\n"
    "        ports: mapping dictionary,\n"
    "            possible keys: ['Tx1','Tx2','Rx1A','Rx1B','Rx2A','Rx2B']\n"
    "            possible values: [1, 2, 3, 4, 5, 6]\n"
    "        tx: port number of transmitter (ie. ports['Tx1'])\n"
    "    output:\n"
    "        rec_tx1: {1:[num_pts] , 2:[num_pts], ..., 6:[num_pts]}\n"
    "            recording dictionary with tx1 as transmitter\n"
    "        rec_tx2: {1:[num_pts] , 2:[num_pts], ..., 6:[num_pts]}\n"
    "            recording dictionary with tx2 as transmitter\n"
    "    ";

inline constexpr const char prompt1PortMeasure_doc[] =
    "\n"
    "    Prompts the user to measure reflection coefficient at chosen port (tx)\n"
    "    input:\n"
    "        orvane: (the board) object,\n"
    "        settings: orvane settings object,\n"
    "        ports: mapping dictionary,\n"
    "            possible keys: ['Tx1','Tx2','Rx1A','Rx1B','Rx2A','Rx2B']\n"
    "            possible values: [1, 2, 3, 4, 5, 6]\n"
    "        tx: port number of transmitter\n"
    "        name: (optional) name of component is printed in the prompt\n"
    "    output:\n"
    "        Gm: [num_pts] measured reflection coefficient\n"
    "    ";

inline constexpr const char prompt2PortMeasure_doc[] =
    "\n"
    "    Prompts the user to measure 2-port S-parameters\n"
    "    input:\n"
    "        orvane: (the board) object\n"
    "        settings: orvane settings object\n"
    "        ports: mapping dictionary\n"
    "            possible keys: ['Tx1','Tx2','Rx1A','Rx1B','Rx2A','Rx2B']\n"
    "            possible values: [1, 2, 3, 4, 5, 6]\n"
    "        name: string (optional) name of component is printed in the prompt\n"
    "        sw_corr: bool (optional) apply switch correction. Default True\n"
    "    output:\n"
    "        Sm: [num_pts,2,2] measured S-parameters\n"
    "    ";

inline constexpr const char prompt1PortSOL_doc[] =
    "\n"
    "    Prompts the user to measure SOL parameters at chosen port (tx)\n"
    "    input:\n"
    "        orvane: (the board) object,\n"
    "        settings: orvane settings object,\n"
    "        ports: mapping dictionary,\n"
    "            possible keys: ['Tx1','Tx2','Rx1A','Rx1B','Rx2A','Rx2B']\n"
    "            possible values: [1, 2, 3, 4, 5, 6]\n"
    "        tx: port number of transmitter\n"
    "    output:\n"
    "        Gm: measured reflection coefficients array [num_pts, 3] in order of OSL\n"
    "    ";

inline constexpr const char prompt2PortSOLT_doc[] =
    "\n"
    "    Uses prompt1PortSOL to get SOL measurements at each port, an additional\n"
    "    thru measurement, and an optional isolation measurement\n"
    "    input:\n"
    "        orvane: (the board) object,\n"
    "        settings: orvane settings object,\n"
    "        ports: port mapping dictionary\n"
    "        isolation: (bool) will the isolation measurement be taken\n"
    "        sw_corr: (bool) will switch correction be applied\n"
    "    output:\n"
    "        Gm1: [num_pts,3] port 1 measured reflection coefficients in order OSL\n"
    "        Gm2: [num_pts,3] port 2 measured reflection coefficients in order OSL\n"
    "        Tm: [num_pts,2,2] measured thru S-parameters\n"
    "        (optional) Im: [num_pts,2,2] measured isolation S-parameters\n"
    "    ";

}  // namespace hidden::measure
