// Placeholder until the backend has sources of its own.
