"""Maps a function over a process pool with the start method named by
the first argument."""
import multiprocessing
import sys

import records


def square(number):
    return number * number


if __name__ == "__main__":
    records.refuse_restart()
    context = multiprocessing.get_context(sys.argv[1])
    with context.Pool(2) as pool:
        squares = pool.map_async(square, range(10)).get(timeout=30)
    records.record(method=context.get_start_method(), squares=squares)
