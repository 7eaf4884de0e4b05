// Implemented with the builder library.
