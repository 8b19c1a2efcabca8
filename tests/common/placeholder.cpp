// Anchor for the shared test helper library.
