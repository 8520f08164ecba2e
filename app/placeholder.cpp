// Placeholder until the main window lands.
