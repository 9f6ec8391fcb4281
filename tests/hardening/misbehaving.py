"""Objects that honour or break the number and sequence protocols, for the
fuzzing and conversion tests."""


class Raising:
    """Raises its error from __index__ and __float__."""

    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error

    def __float__(self):
        raise self.error


class Index:
    """An integer only through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Real:
    """A number only through __float__."""

    def __float__(self):
        return 0.75


class WrongFloat:
    def __float__(self):
        return "not a float"


class OddSequence:
    """Passes the sequence check and is read by iteration; its __len__
    returns `length`, or raises it when it is an exception."""

    def __init__(self, items, length):
        self.items = items
        self.length = length

    def __getitem__(self, index):
        return self.items[index]

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length
