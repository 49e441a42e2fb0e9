// Placeholder until the survey lands.
