"""Where the examples write their pictures: the folder named on the command
line, else an `output` folder beside the examples."""

from pathlib import Path


def output_folder(argv: list[str]) -> Path:
    """The folder named on the command line, else examples/output; created."""
    folder = Path(argv[1]) if len(argv) > 1 else Path(__file__).resolve().parent / "output"
    folder.mkdir(parents=True, exist_ok=True)
    return folder


def save_figure(target: Path) -> Path:
    """Writes the current matplotlib figure to `target` and closes it."""
    import matplotlib.pyplot as plt

    plt.savefig(target, dpi=110)
    plt.close()
    return target
