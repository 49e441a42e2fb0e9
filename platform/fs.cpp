// Placeholder until the file system lands.
