"""python -m vorlane: the vorlane command."""

import sys

from vorlane.cli import main

if __name__ == "__main__":
    sys.exit(main())
