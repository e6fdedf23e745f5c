# 100,000 rounds of split, find, slicing and replace on a settings line.
def main():
    line = "zone=3;input=5;volume=42;mute=off;name=Kitchen"
    total = 0
    for i in range(1, 100001):
        parts = line.split(";")
        for part in parts:
            p = part.find("=") + 1
            total = total + len(part[p:])
        s = line.replace("Kitchen", "Room" + str(i))
        total = total + s.find("Room") + 1
    print(total)


main()
