"""Four daemon threads still running when the main script ends.

They compete for the interpreter lock, so at exit they are waiting for it
inside the interpreter's code while the interpreter finalises and the
process ends: that code must stay mapped until the process has ended.
"""
import threading
import time


def spin():
    count = 0
    while True:
        count += 1


for _ in range(4):
    threading.Thread(target=spin, daemon=True).start()
time.sleep(0.05)
print("main script done", flush=True)
