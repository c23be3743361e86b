"""`quarrix-batch` and `python -m quarrix_core.batch`: the command, once its extra is known to be there."""

import sys

from ..extras import require_extra


def main() -> int:
    require_extra("quarrix-batch", "batch")
    from .cli import main as run

    return run()


if __name__ == "__main__":
    sys.exit(main())
