/* A library that the dependent runtime needs, removed from a test tree to
 * leave that need unresolved. */
int doctorStubValue(void);
int doctorStubValue(void) { return 7; }
