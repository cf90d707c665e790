"""The exit statuses of the vorlane command, for scripts to tell outcomes apart."""

SUCCESS = 0
UNUSABLE_INPUT = 1
USAGE = 2  # argparse's own
FIT_NOT_CONVERGED = 3
NOT_VALID = 4
INTERRUPTED = 130  # 128 + SIGINT, as shells report Ctrl-C

TABLE = f"""exit status:
  {SUCCESS}    success
  {UNUSABLE_INPUT}    an input that cannot be used: a missing or unreadable file, an invalid
       circuit, a spectrum or option value the fit or test rejects (an
       unknown method, a negative seed), an output file that cannot be
       written, a missing optional dependency (pandas to read files,
       matplotlib for --plot)
  {USAGE}    usage error: unknown command or option, missing argument
  {FIT_NOT_CONVERGED}    vorlane fit: the fit did not converge (success false); its table,
       --json and --plot are written all the same
  {NOT_VALID}    vorlane kk: the spectrum is not valid (its residuals are structured or
       it has too many outliers); the report and --plot are written all the same
  {INTERRUPTED}  interrupted (Ctrl-C)"""
