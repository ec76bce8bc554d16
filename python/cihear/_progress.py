"""Progress of a batch on standard error: a tqdm bar on a terminal, else a plain line every
so often, so that the log of a cluster job stays readable."""

import sys
import time


def _duration(seconds):
    seconds = int(round(seconds))
    if seconds < 60:
        return f"{seconds} s"
    if seconds < 3600:
        return f"{seconds // 60} min {seconds % 60:02d} s"
    return f"{seconds // 3600} h {seconds % 3600 // 60:02d} min"


class Progress:
    def __init__(self, total, stream=None, interval=15.0, bar=None, clock=time.monotonic):
        self.stream = stream if stream is not None else sys.stderr
        self.total, self.interval, self.clock = total, interval, clock
        self.counts = {"done": 0, "failed": 0}
        self.start = self.last = clock()
        if bar is None:
            bar = hasattr(self.stream, "isatty") and self.stream.isatty()
        self.bar = None
        if bar and total:
            try:
                from tqdm import tqdm
            except ImportError:  # without tqdm, the plain lines
                return
            self.bar = tqdm(total=total, file=self.stream, unit="file", dynamic_ncols=True)

    def update(self, status):
        self.counts[status] = self.counts.get(status, 0) + 1
        if self.bar is not None:
            self.bar.update(1)
            if self.counts["failed"]:
                self.bar.set_postfix(failed=self.counts["failed"], refresh=False)
        elif self.clock() - self.last >= self.interval:
            self.line()

    def line(self):
        self.last = now = self.clock()
        finished = sum(self.counts.values())
        elapsed = now - self.start
        text = (f"cihear batch: {finished}/{self.total} jobs ({self.counts['done']} done, "
                f"{self.counts['failed']} failed) in {_duration(elapsed)}")
        if finished and elapsed > 0:
            rate = finished / elapsed
            text += f", {rate:.2f} jobs/s"
            if finished < self.total:
                text += f", about {_duration((self.total - finished) / rate)} left"
        print(text, file=self.stream, flush=True)

    def note(self, text):
        """A line of its own (a failure), printed without breaking the bar."""
        if self.bar is not None:
            self.bar.write(text, file=self.stream)
        else:
            print(text, file=self.stream, flush=True)

    def close(self):
        if self.bar is not None:
            self.bar.close()
            self.bar = None
        elif self.total and sum(self.counts.values()) and self.last != self.clock():
            self.line()
