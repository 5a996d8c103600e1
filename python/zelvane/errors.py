"""Exceptions raised by the zelvane package.

Frame-graph operations that fail raise a subclass of :class:`FrameGraphError`, one
per result code of the C++ library, carrying the code, the frames and the time::

    FrameGraphError (RuntimeError)
    +-- NoFramesError        code NO_FRAMES: a lookup on an empty graph
    +-- FrameNotFoundError   code NOT_FOUND: an unknown frame, unconnected frames,
    |                        nothing to store (also a LookupError)
    +-- OutOfRangeError      code OUT_OF_RANGE: a time the samples do not cover
    |                        (with the times that work)
    +-- RefusedError         code ERROR: a refused registration, rename or removal

Reading or writing settings files raises :class:`SettingsError`; resolving a host
name that does not resolve raises :class:`ResolutionError`. Bad arguments (shapes,
dtypes, unknown option strings) raise ``ValueError``.
"""


class FrameGraphError(RuntimeError):
    """A frame-graph operation failed.

    Attributes
    ----------
    code : zelvane.TransformResult
        The C++ library's result code.
    from_frame, to_frame : str or None
        The frames of the operation (for a rename, the old and the new name).
    time : int or None
        The time asked for, when the operation had one.
    """

    def __init__(self, message, *, code, from_frame=None, to_frame=None, time=None):
        super().__init__(message)
        self.code = code
        self.from_frame = from_frame
        self.to_frame = to_frame
        self.time = time

    def _attributes(self):
        return dict(code=self.code, from_frame=self.from_frame, to_frame=self.to_frame,
                    time=self.time)

    def __reduce__(self):
        return (_rebuild, (type(self), str(self), self._attributes()))


def _rebuild(cls, message, attributes):
    return cls(message, **attributes)


class NoFramesError(FrameGraphError):
    """The graph has no frames (code NO_FRAMES)."""


class FrameNotFoundError(FrameGraphError, LookupError):
    """A frame is not registered, the frames are not connected, or there is nothing to
    store (code NOT_FOUND)."""


class OutOfRangeError(FrameGraphError):
    """The time lies outside what the samples allow for the method (code OUT_OF_RANGE).

    With "interpolated", a time past the newest sample; with every method but
    "most_recent", a time before the oldest sample or one more than the history
    window after the newest.

    Attributes
    ----------
    available : tuple of (int, int) or None
        The times (oldest, newest, both included) at which an interpolated lookup
        between ``from_frame`` and ``to_frame`` succeeds, read just after the
        failure (``TransformManager.common_time_span``); None when no time works
        (the time spans of the edges between them do not overlap).
    """

    def __init__(self, message, *, available=None, **attributes):
        super().__init__(message, **attributes)
        self.available = available

    def _attributes(self):
        return dict(super()._attributes(), available=self.available)


class RefusedError(FrameGraphError):
    """The operation was refused and nothing changed (code ERROR): a transform of a
    frame in itself or one that would close a cycle, a rename to a name in use, or a
    removal that failed."""


class SettingsError(RuntimeError):
    """A settings file cannot be read or written, is malformed, or lacks a value."""


class ResolutionError(OSError):
    """A host name does not resolve."""
