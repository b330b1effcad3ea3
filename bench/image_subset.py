"""The first records of the sample application image and the first bytes of the flash image,
written as files of their own, so that a benchmark's update has the size it wants."""
import os


def write_subset(directory, sample_hex, sample_flash, data_records, flash_bytes, name="bench"):
    hex_path = os.path.join(directory, name + ".hex")
    flash_path = os.path.join(directory, name + ".bin")
    written = 0
    with open(sample_hex) as source, open(hex_path, "w") as out:
        for line in source:
            if written >= data_records:
                break
            out.write(line)
            written += line[7:9] == "00"
        out.write(":00000001FF\n")
    with open(sample_flash, "rb") as source, open(flash_path, "wb") as out:
        out.write(source.read(flash_bytes))
    return hex_path, flash_path
