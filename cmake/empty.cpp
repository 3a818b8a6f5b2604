// Placeholder so that a library without sources of its own can still be built.
