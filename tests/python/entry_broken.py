"""A module whose own import fails: its error is the application's, shown
as a console script shows it."""
import missing_dependency_of_entry_broken  # noqa: F401


def run():
    return 0
