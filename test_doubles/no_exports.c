/* A shared library that exports none of the names the launcher looks up. */
int noExportsMarker(void);
int noExportsMarker(void) { return 0; }
