// placeholder until the support units exist
