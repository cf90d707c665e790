"""Fitting a whole study on a Dask cluster.

A synthetic ageing study of a cell (R0-(R1,CPE1): the series and the
charge-transfer resistance grow with the cycle count, 1 % noise) is made
partition by partition on the workers as one long dataframe per partition.
Each partition goes through `Circuit.fit_many(..., by="Spectrum")` and
`vorlane.results_table`, and the whole table is written to Parquet: to the
directory given with --output, else to dask_fit_results.parquet in the
`output` folder beside this script (examples/output).

    python examples/dask_fit.py                               # 20 000 spectra on a LocalCluster here
    python examples/dask_fit.py --scheduler tcp://host:8786   # the same on an existing cluster
    python examples/dask_fit.py --spectra 2000 --output fits.parquet

Needs the dask extra: pip install "vorlane[dask]".
"""
# dask's functions carry no type annotations.
# mypy: disable-error-code="no-untyped-call"

import argparse
import os
import time
from pathlib import Path
from typing import Optional, Sequence

import numpy as np
import pandas as pd

import vorlane

CIRCUIT = "R0-(R1,CPE1)"
FREQUENCIES = np.logspace(-2, 4, 40)
NOISE = 0.01
DEFAULT_OUTPUT = Path(__file__).resolve().parent / "output" / "dask_fit_results.parquet"


def true_values(spectrum: int, spectra: int) -> list[float]:
    """R0, R1, CPE1.q, CPE1.alpha of spectrum number `spectrum` of `spectra`."""
    ageing = spectrum / max(spectra - 1, 1)
    return [0.020 * (1 + 0.5 * ageing), 0.010 * (1 + 2.0 * ageing), 2.0, 0.85]


def study_partition(partition: int, spectra_per_partition: int, spectra: int, seed: int) -> pd.DataFrame:
    """The long dataframe of one partition: spectra partition * n ... (partition + 1) * n - 1."""
    circuit = vorlane.Circuit(CIRCUIT)
    first = partition * spectra_per_partition
    parts = []
    for spectrum in range(first, min(first + spectra_per_partition, spectra)):
        rng = np.random.default_rng([seed, spectrum])
        z = circuit.with_values(true_values(spectrum, spectra)).impedance(FREQUENCIES)
        z = z * (1 + NOISE * (rng.standard_normal(z.size) + 1j * rng.standard_normal(z.size)))
        parts.append(pd.DataFrame({
            "Spectrum": spectrum,
            "Cycle Count / 1": spectrum,
            "Frequency / Hz": FREQUENCIES,
            "Real Impedance / ohm": z.real,
            "Imaginary Impedance / ohm": z.imag,
        }))
    return pd.concat(parts, ignore_index=True)


def fit_partition(frame: pd.DataFrame, fit_threads: int = 1) -> pd.DataFrame:
    """The results table of one partition, one row per spectrum."""
    circuit = vorlane.Circuit(CIRCUIT)
    results = circuit.fit_many(frame, by="Spectrum", errors="collect", workers=fit_threads)
    return vorlane.results_table(results, keys=vorlane.group_keys(frame, "Spectrum"), params=circuit.param_names())


def parse_arguments(argv: Optional[Sequence[str]] = None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    parser.add_argument("--scheduler", help="address of an existing Dask scheduler; a LocalCluster otherwise")
    parser.add_argument("--spectra", type=int, default=20000, help="spectra in the study (default 20000)")
    parser.add_argument("--partitions", type=int, default=40, help="partitions of the study (default 40)")
    parser.add_argument("--workers", type=int, default=os.cpu_count(), help="LocalCluster worker processes")
    parser.add_argument("--fit-threads", type=int, default=1,
                        help="threads of each partition's fit_many (default 1: one per Dask worker thread)")
    parser.add_argument("--seed", type=int, default=2024, help="seed of the synthetic noise")
    parser.add_argument("--output", default=str(DEFAULT_OUTPUT),
                        help="Parquet directory to write (default examples/output/dask_fit_results.parquet)")
    return parser.parse_args(argv)


def main(argv: Optional[Sequence[str]] = None) -> None:
    import dask.dataframe as dd
    from dask.distributed import Client, LocalCluster

    args = parse_arguments(argv)
    per_partition = -(-args.spectra // args.partitions)
    partitions = -(-args.spectra // per_partition)
    if args.scheduler:
        client, cluster = Client(args.scheduler), None
    else:
        # None turns the dashboard off (dask annotates the argument as str only).
        cluster = LocalCluster(
            n_workers=args.workers, threads_per_worker=1, dashboard_address=None  # pyright: ignore[reportArgumentType]
        )
        client = Client(cluster)
    try:
        print(f"{args.spectra} spectra in {partitions} partitions on {len(client.scheduler_info()['workers'])} workers")
        study = dd.from_map(study_partition, range(partitions), spectra_per_partition=per_partition,
                            spectra=args.spectra, seed=args.seed)
        meta = fit_partition(study_partition(0, 1, 1, args.seed)).iloc[:0]
        table = study.map_partitions(fit_partition, fit_threads=args.fit_threads, meta=meta)
        start = time.perf_counter()
        table.to_parquet(args.output, write_index=False)
        elapsed = time.perf_counter() - start
        print(f"fitted and written in {elapsed:.1f} s ({args.spectra / elapsed:.0f} spectra/s) to {args.output}")
        written = pd.read_parquet(args.output)
        print(f"{int(written['success'].sum())} of {len(written)} fits succeeded; the first rows:")
        print(written.head().to_string(index=False))
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


if __name__ == "__main__":
    main()
