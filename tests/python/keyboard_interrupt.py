"""Says it is ready, then sleeps until SIGINT raises KeyboardInterrupt."""
import os
import time

with open(os.path.join(os.environ["TEST_RECORDS"], "ready"), "w"):
    pass
time.sleep(60)
