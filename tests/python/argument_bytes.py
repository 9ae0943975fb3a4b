"""Records how the interpreter decoded its arguments."""
import os
import sys

import records

records.record(argv=ascii(sys.argv), encoding=sys.getfilesystemencoding(),
               utf8_mode=sys.flags.utf8_mode,
               bytes=[os.fsencode(argument).hex() for argument in sys.argv[1:]])
