// Placeholder until the log stand-in lands.
