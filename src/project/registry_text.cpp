// Placeholder: this file is being written.
