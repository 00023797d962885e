// placeholder until the library units exist
