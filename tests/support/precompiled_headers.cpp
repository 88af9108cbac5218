// The target that makes the test programs' precompiled header; it holds no
// code of its own.
