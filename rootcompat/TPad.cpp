// Implementation follows.
