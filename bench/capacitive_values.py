"""The capacitive element of an arc in the benchmarks' drawn circuits."""


def set_capacitive(values, names, k, r, omega, draw_alpha):
    """Give element k (C or CPE, whichever `names` holds) the values that put
    its arc with resistance `r` at angular frequency `omega`: C = 1/(omega r),
    or a CPE of exponent `draw_alpha()` (drawn only for a CPE, so that the
    random stream is the one each benchmark has always drawn) and
    q = omega^-alpha / r."""
    if f"C{k}.c" in names:
        values[f"C{k}.c"] = 1.0 / (omega * r)
    else:
        alpha = draw_alpha()
        values[f"CPE{k}.q"] = omega ** -alpha / r
        values[f"CPE{k}.alpha"] = alpha
