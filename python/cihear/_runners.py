"""Where the jobs of a batch run: worker processes on this machine, or a Dask cluster.

Each runner is a generator of (job, outcome) pairs in the order the jobs finish. Stopping it
(Ctrl-C while it waits, or closing it) cancels what has not started and ends the workers.
"""

import concurrent.futures as cf
import contextlib
import multiprocessing
import os

from ._worker import THREADS_VARIABLE, Outcome, initialize, remove_temporaries, run_job


@contextlib.contextmanager
def _worker_environment():
    """CIHEAR_THREADS=1 in this process's environment while its workers start, so that each
    simulation in a worker is single-threaded from the moment the worker imports cihear; the
    previous value is put back afterwards."""
    previous = os.environ.get(THREADS_VARIABLE)
    os.environ[THREADS_VARIABLE] = "1"
    try:
        yield
    finally:
        if previous is None:
            os.environ.pop(THREADS_VARIABLE, None)
        else:
            os.environ[THREADS_VARIABLE] = previous


def _end_workers(executor, futures):
    """Cancels the queued jobs and ends the running ones at once, rather than waiting for them."""
    processes = list((getattr(executor, "_processes", None) or {}).values())
    for future in futures:
        future.cancel()
    executor.shutdown(wait=False)
    for process in processes:
        with contextlib.suppress(Exception):
            process.terminate()
    for process in processes:
        with contextlib.suppress(Exception):
            process.join(5)
            if process.is_alive():
                process.kill()
                process.join()


def _remove_temporary(job):
    remove_temporaries([job])


def local(jobs, workers):
    """Runs the jobs in `workers` processes, at most twice as many queued as there are workers.

    A worker that dies (killed, or taken by the system when memory runs out) takes down the
    pool; the jobs it was running are then run again one at a time, each in a fresh process,
    and one that kills that process too fails with the reason."""
    queue = list(reversed(jobs))
    suspects = []
    while queue or suspects:
        if suspects:
            job = suspects.pop()
            yield from _pool([job], 1, lost="the worker process died while simulating this file "
                                            "(killed, or out of memory)")
            continue
        broken = []
        yield from _pool(queue, workers, broken=broken)
        suspects = broken


def _pool(queue, workers, broken=None, lost=None):
    """Runs jobs popped from the end of `queue` until it is empty or the pool breaks; on a break
    the unfinished jobs go to `broken` (or, with `lost`, are reported failed with that reason)."""
    context = multiprocessing.get_context("spawn")
    with _worker_environment():
        executor = cf.ProcessPoolExecutor(workers, mp_context=context, initializer=initialize,
                                          initargs=(os.getpid(),))
    running = {}
    has_broken = False
    try:
        while running or (queue and not has_broken):
            while queue and not has_broken and len(running) < 2 * workers:
                try:
                    with _worker_environment():  # workers start as jobs are submitted
                        future = executor.submit(run_job, queue[-1])
                except cf.process.BrokenProcessPool:
                    has_broken = True
                else:
                    running[future] = queue.pop()
            if not running:
                break
            # once broken, the pool fails every unfinished job at once
            finished, _ = cf.wait(running, return_when=cf.ALL_COMPLETED if has_broken
                                  else cf.FIRST_COMPLETED)
            for future in finished:
                job = running.pop(future)
                error = future.exception()
                if error is None:
                    yield job, future.result()
                    continue
                _remove_temporary(job)
                if not isinstance(error, cf.process.BrokenProcessPool):
                    yield job, Outcome.failure(f"{type(error).__name__}: {error}")
                elif lost is not None:
                    yield job, Outcome.failure(lost)
                else:
                    has_broken = True
                    broken.append(job)
    finally:
        _end_workers(executor, running)
        remove_temporaries(running.values())


def dask(jobs, scheduler):
    """Runs the jobs on the Dask cluster at `scheduler` (an address, or a distributed.Client or
    cluster object). The workers must see the same files under the same paths."""
    import distributed

    own = not isinstance(scheduler, distributed.Client)
    client = distributed.Client(scheduler) if own else scheduler
    futures = {}
    try:
        futures = {client.submit(run_job, job, pure=False): job for job in jobs}
        for future in distributed.as_completed(futures):
            job = futures.pop(future)
            try:
                yield job, future.result()
            except Exception as e:  # the cluster lost the job: a worker died, or it was cancelled
                _remove_temporary(job)
                yield job, Outcome.failure(f"the cluster could not run it: "
                                           f"{type(e).__name__}: {e}")
    finally:
        if futures:
            client.cancel(list(futures))
        if own:
            client.close()
