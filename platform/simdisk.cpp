// Placeholder until the simulated disk lands.
