// placeholder until the test-file writers exist
