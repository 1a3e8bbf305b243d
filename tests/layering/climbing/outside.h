inline int outside_value() { return 2; }
