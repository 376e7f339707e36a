int qlPlaceholder() { return 0; }
