"""harvestodb: result databases of the harvestodb tools, from Python.

Submodules:
  report   reads a harvestodb report (params.txt) and the results table of harvest-many
  plot     the harvest-plot command
  many     the harvest-many command
"""
