# Sums 1..3,000,000 in a loop (inside a function, where Python is fastest).
def main():
    total = 0
    for i in range(1, 3000001):
        total = total + i
    print(total)


main()
