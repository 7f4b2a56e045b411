// Keeps the Windows test binary non-empty before it has tests of its own.
