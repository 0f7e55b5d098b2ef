// Placeholder: tests are being written.
