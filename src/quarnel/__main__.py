"""``python -m quarnel``: the command line (see quarnel.cli)."""

import sys

from quarnel.cli import main

sys.exit(main())
