# Tests of this slice, registered with murmel_test().
