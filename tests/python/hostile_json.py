"""Put as json.py in the working directory: says so when it is imported."""
import os

with open(os.path.join(os.environ["TEST_RECORDS"], "hostile"), "w"):
    pass
