"""Private vocabulary shared by the package's areas: phase conventions,
physical constants, cascades of S-parameter stacks, files written whole,
values moved onto other frequency grids."""
