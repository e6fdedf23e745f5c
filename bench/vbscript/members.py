# 500,000 rounds of a method call with an argument and a property read on
# an instance.
class Counter:
    def __init__(self):
        self._total = 0

    def add(self, n):
        self._total = self._total + n

    @property
    def total(self):
        return self._total


def main():
    c = Counter()
    s = 0
    for i in range(1, 500001):
        c.add(2)
        s = s + c.total
    print(c.total, s)


main()
